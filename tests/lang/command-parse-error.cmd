print "a, print [b
