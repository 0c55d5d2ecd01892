make "obj.a 1, print :obj.a, print :obj.b
