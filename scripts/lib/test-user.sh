# The ordinary user the tests run kivom as (made by scripts/setup), as a Linux user runs it.
KIVOM_TEST_USER=kivomtest
