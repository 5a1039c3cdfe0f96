/* Shared declarations of the menu module. */
#ifndef UI_LOCAL_H
#define UI_LOCAL_H

int UI_MenuCount(void);

#endif
