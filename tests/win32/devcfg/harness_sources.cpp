// The lab relay of the scan suite and the helpers of the Create Virtual
// Serial Port suite (pair record, parlo.ini, DOS devices), built into this
// program as well.
#include "tests/win32/createport/createport_support.cpp"
#include "tests/win32/scan/lab_relay.cpp"
