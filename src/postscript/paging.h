// paging.h - turning the pages of a PostScript document.
#pragma once

void next_page();
void prev_page();
void first_page();
void last_page();
