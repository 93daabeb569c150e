// The entry point of a program built on the framework: the program itself
// defines only its application object.
#include "platform/framework_app.h"

int main() { return AfxWinMain(); }
