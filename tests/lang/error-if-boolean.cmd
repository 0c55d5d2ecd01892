if "maybe [print "never]
