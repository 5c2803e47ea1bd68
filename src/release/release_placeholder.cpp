// Keeps the libraries non-empty while their parts are added one by one.
