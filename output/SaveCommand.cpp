// "Save Results" under the valid and the invalid list.

#include "app/Form1.h"

void Form1::PushButton6_Click() {}

void Form1::PushButton1_Click() {}
