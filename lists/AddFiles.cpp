// "Add XML File(s)": files chosen in the open dialog.

#include "app/Form1.h"

void Form1::PushButton5_Click() {}
