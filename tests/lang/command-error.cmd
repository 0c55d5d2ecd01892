print "a, nosuch
