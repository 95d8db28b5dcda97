/* The card libraries of this project (the stand-in card, the Linux DVB card
 * library, the SAT>IP card library) say on stderr why the card cannot do
 * what was asked, and keep the last such line for a host program, which
 * finds this entry by name in the loaded card library (the vendor's library
 * has none):
 *
 *   int CardLastProblem(char* buffer, int capacity):
 *     copies the line, without the library's name before it, NUL-terminated
 *     and cut to fit, and returns its whole length; 0 when it said none.
 *
 * A host reads it after a failed open or a failed stream, to give the reason
 * where the user reads the failure (the JSON "error"). Plain C. */
#pragma once

#define CARD_LAST_PROBLEM_ENTRY "CardLastProblem"
