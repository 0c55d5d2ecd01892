print "a, repeat "many [print "never]
