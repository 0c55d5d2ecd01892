while "true "notalist
