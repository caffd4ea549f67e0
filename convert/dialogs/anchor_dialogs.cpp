// Temporary anchor until the dialogs land.
