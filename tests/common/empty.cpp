// Keeps the support library non-empty before any harness exists.
