print first []
