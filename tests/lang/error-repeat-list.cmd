repeat 2 "notalist
