#ifndef KORVANE_LSMACQUISITIONMETADATA_H
#define KORVANE_LSMACQUISITIONMETADATA_H

#include <map>
#include <string>

#include "LSMAcquisition.h"

// The acquisition model as the reader's metadata map: keys read as paths ("Recording/Objective",
// "Track 1/Detection channel 2/Pinhole diameter (µm)", "Image channel 0/Excitation (nm)"), values are
// UTF-8 text with the unit in the key. Tracks, lasers and their hardware count from 1 in file order;
// image channels count from 0 as the reader's channel arguments do. Hardware the file marks as not
// acquired and values it does not give are left out, and long lists (time stamps, events,
// positions) are summarised; the model keeps them whole.
std::map<std::string, std::string> lsmAcquisitionMetaData(const LSMAcquisition& aAcquisition, int aChannels);

#endif
