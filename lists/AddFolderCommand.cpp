// "Add All XML File(s) In Folder": every matching file of a folder tree.

#include "app/Form1.h"

void Form1::PushButton3_Click() {}
