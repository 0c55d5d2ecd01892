if "false [print "never] "notalist
