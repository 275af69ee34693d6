# Tests of the fake platform code.
