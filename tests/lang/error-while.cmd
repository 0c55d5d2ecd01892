make "go "maybe, while :go [print "never]
