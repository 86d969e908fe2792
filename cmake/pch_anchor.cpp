// The one source of the targets that only make a precompiled header for the tests to share.
