// Anchor of the resource library; the pictures themselves are in the .qrc files.
