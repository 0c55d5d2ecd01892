to setit "v print :v end, setit [a b]
