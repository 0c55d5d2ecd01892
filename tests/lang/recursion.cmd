to f f end, f
