"""The Wine end-to-end harness: scenarios, the Wine session, and checks."""
