// Written with the cursor and record operations.
