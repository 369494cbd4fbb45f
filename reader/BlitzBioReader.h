#ifndef KORVANE_BLITZBIOREADER_H
#define KORVANE_BLITZBIOREADER_H

#include <blitz/array.h>

#include <map>
#include <string>
#include <vector>

#include "BlitzFileIOException.h"
#include "PixelDataType.h"

// Getter name ("getSizeX()") to its value as text; also the type of the metadata map.
typedef std::map<std::string, std::string> PropertiesMap;
typedef std::map<std::string, std::string> MetaDataMap;

// Three floats read as v[0], v[1], v[2]; element sizes are ordered z, y, x.
typedef blitz::TinyVector<float, 3> FloatVector3;

// Reader of a five-index microscopy stack (x, y, z, channel, timepoint).
class BlitzBioReader {
  public:
    virtual bool reservedQueryA() = 0;
    virtual bool isOpen() = 0;
    virtual bool reservedQueryB() = 0;
    virtual ~BlitzBioReader() {}
    virtual std::string getVersion() = 0;
    virtual std::string getInterfaceVersion() = 0;
    virtual void getProperties(PropertiesMap& aProperties, int aTimepoint, int aChannel, int aZPlane);
    virtual FloatVector3 getElementSize(int aTimepoint, int aChannel, int aZPlane) = 0;
    virtual FloatVector3 getStagePosition(int aTimepoint, int aChannel, int aZPlane) = 0;
    virtual void close() = 0;
    virtual std::string getCurrentFile() = 0;
    virtual void getMetaData(MetaDataMap& aMetaData) = 0;
    virtual std::string getMetaDataValue(const std::string& aKey) = 0;
    virtual std::string getFormat() = 0;
    virtual int getPixelType(int aChannel) = 0;
    virtual std::string getPixelTypeName(int aChannel);
    virtual int getSeriesCount() = 0;
    virtual int getSizeC() = 0;
    virtual int getSizeT() = 0;
    virtual int getSizeX() = 0;
    virtual int getSizeY() = 0;
    virtual int getSizeZ() = 0;
    virtual std::vector<std::string> getSuffixes() = 0;
    virtual int getThumbSizeX() = 0;
    virtual int getThumbSizeY() = 0;
    virtual void open(const std::string& aFileName) = 0;
    virtual void setSeries(int aSeries) = 0;
};

#endif
