// Keeps a library target valid while it has no source of its own.
