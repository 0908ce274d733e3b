// exclusive-open: preloaded into the Wine server, gives the device behind COM1 the exclusive
// open that Windows gives a serial port. Being written; does nothing yet.
