// The update command: what the button does.
#include "app/launcher.h"

void TFormLauncher::btnUpdateClick(TObject*) {}
