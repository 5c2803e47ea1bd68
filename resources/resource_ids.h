// Numbers of the program's resources, shared by the resource script and the code.
#pragma once

#define IDI_MORVANE 1
#define IDR_LOGO 101
#define IDR_BUTTON_SKIN 102
#define IDR_ICON_FONT 103
