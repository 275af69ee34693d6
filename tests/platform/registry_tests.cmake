# Tests of the registry platform code.
