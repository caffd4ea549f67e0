// Temporary anchor until the first control lands.
