to setit "v print :v end, setit "nosuchvar
