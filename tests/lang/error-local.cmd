local [a]
