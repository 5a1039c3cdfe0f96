#include "g_local.h"

/* A score never drops below zero. */
int G_Score(int frags, int deaths)
{
	int score = frags - deaths;
	return score < 0 ? 0 : score;
}
