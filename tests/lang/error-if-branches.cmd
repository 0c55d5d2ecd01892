if "false [print "never] [print "else], if "true "notalist
