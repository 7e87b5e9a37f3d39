// Random pilots against a reference model (filled in next).
