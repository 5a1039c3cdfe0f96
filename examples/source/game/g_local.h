/* Shared declarations of the server module. */
#ifndef G_LOCAL_H
#define G_LOCAL_H

int G_Score(int frags, int deaths);

#endif
