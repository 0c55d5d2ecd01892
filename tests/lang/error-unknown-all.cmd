print "a, print :nosuch.thing
