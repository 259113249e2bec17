// Keeps a library with no unit of its own yet linkable.
