print [a](1)
