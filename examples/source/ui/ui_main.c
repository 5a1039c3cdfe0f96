#include "ui_local.h"

int UI_MenuCount(void)
{
	return 3;
}
