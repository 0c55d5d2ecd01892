if [true] [print "never]
