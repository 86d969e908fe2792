// libFuzzer brings main(); the entry point comes from the target's object library.
