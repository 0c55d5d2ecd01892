print 1 2 3, make "x [a b], print :x
