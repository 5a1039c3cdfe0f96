#include "cg_local.h"

const char *CG_Greeting(void)
{
	return "Welcome to the arena";
}
