/* Shared declarations of the client module. */
#ifndef CG_LOCAL_H
#define CG_LOCAL_H

const char *CG_Greeting(void);

#endif
