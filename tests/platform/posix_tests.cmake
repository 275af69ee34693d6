# Tests of the posix platform code.
