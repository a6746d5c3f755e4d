#pragma once

#include <QString>

// Nation numbers of tachograph data (vehicle registration, card issuing state) and their
// distinguishing letters, each padded with spaces to exactly three characters.
void fillNationAlpha();
QString nationLetters(quint8 nation);
