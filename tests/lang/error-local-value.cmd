print (local "a "b)
