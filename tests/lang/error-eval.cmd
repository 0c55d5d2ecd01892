print :[not a name]
