// The serial test exchange: one request and its reply over COM1 (on Windows, or the port
// kivom.exe's command line names).
#pragma once

// Opens the port, sends the text of TransmitEdit and a carriage return, shows up to 100 bytes
// of reply in ReceiveEdit and closes the port. A port that cannot be opened is reported in
// a message box and ends the program.
void SerialTestExchange();
