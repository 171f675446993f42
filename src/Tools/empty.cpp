// Keeps libFileScan buildable before the Scan layer has sources.
