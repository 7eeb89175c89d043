"""Cases added as the features arrive."""
