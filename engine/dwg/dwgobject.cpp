#include "dwgobject.h"

#include "dwgcrc.h"
#include "dwgtext.h"

namespace unplot::engine::dwg {

// What every object and entity starts with: type, the place of its size in bits, handle, no extended data (and for
// an entity, no graphic image).
void ObjectWriter::writeStart(std::uint16_t objectType, std::uint64_t handle, bool entity)
{
    data_.useTrueColorCmc(r2004());
    if (!r2007())  // from 2007 on the type and sizes go in front of the streams (see finish())
        data_.writeBS(objectType);
    if (r2000() && !r2007()) {
        bitSizeAt_ = data_.bitCount();
        data_.writeRL(0);
    }
    data_.writeH(HandleCode::Plain, handle);
    data_.writeBS(0);  // no extended data
    if (entity)
        data_.writeB(false);  // no graphic image
    if (!r2000()) {
        bitSizeAt_ = data_.bitCount();
        data_.writeRL(0);
    }
}

ObjectWriter::ObjectWriter(int version, std::uint16_t objectType, std::uint64_t handle, std::uint64_t owner,
                           bool ownerIsReactor, const std::vector<std::uint64_t>& reactors)
    : version_(version), type_(objectType)
{
    writeStart(objectType, handle, false);
    data_.writeBL(std::uint32_t((ownerIsReactor ? 1 : 0) + reactors.size()));
    if (r2004())
        data_.writeB(true);  // no extension dictionary: its handle is left out
    refs_.writeH(HandleCode::SoftPointer, owner);
    if (ownerIsReactor)
        refs_.writeH(HandleCode::SoftPointer, owner);
    for (std::uint64_t reactor : reactors)
        refs_.writeH(HandleCode::SoftPointer, reactor);
    if (!r2004())
        refs_.writeH(HandleCode::HardOwner, 0);  // no extension dictionary
}

ObjectWriter::ObjectWriter(int version, std::uint16_t objectType, std::uint64_t handle, const EntityCommon& common)
    : version_(version), type_(objectType)
{
    writeStart(objectType, handle, true);
    data_.writeBB(common.space);
    data_.writeBL(0);  // no reactors
    if (r2004())
        data_.writeB(true);  // no extension dictionary
    if (!r2000())
        data_.writeB(common.linetype == 0);  // linetype by layer, else its handle follows the layer's
    if (!r2004())
        data_.writeB(false);  // previous and next entity are written
    if (!r2004()) {
        data_.writeCMC(common.color);
    } else if (common.rgb >= 0) {  // the colour flag 0x80: an RGB value follows
        data_.writeBS(std::uint16_t(0x8000u | (common.color & 0x1ffu)));
        data_.writeBL(0xc2000000u | std::uint32_t(common.rgb));
    } else {
        data_.writeBS(common.color);
    }
    data_.writeBD(1.0);  // linetype scale
    if (r2000()) {
        data_.writeBB(common.linetype != 0 ? 3 : 0);  // linetype by layer, or its handle after the layer's
        data_.writeBB(0);  // plot style by layer
    }
    if (r2007()) {
        data_.writeBB(0);  // material by layer
        data_.writeRC(0);  // casts and receives shadows
    }
    if (r2010()) {
        data_.writeB(false);  // no full, face or edge visual style
        data_.writeB(false);
        data_.writeB(false);
    }
    data_.writeBS(0);  // visible
    if (r2000())
        data_.writeRC(common.lineweight);

    if (common.space == 0)
        refs_.writeH(HandleCode::SoftPointer, common.owner);
    if (!r2004())
        refs_.writeH(HandleCode::HardOwner, 0);  // no extension dictionary
    if (!r2000()) {
        refs_.writeH(HandleCode::HardPointer, common.layer);
        if (common.linetype != 0)
            refs_.writeH(HandleCode::HardPointer, common.linetype);
    }
    if (!r2004()) {  // R2004 files link entities through their block's list instead
        refs_.writeH(HandleCode::SoftPointer, common.prev);
        refs_.writeH(HandleCode::SoftPointer, common.next);
    }
    if (r2000()) {
        refs_.writeH(HandleCode::HardPointer, common.layer);
        if (common.linetype != 0)
            refs_.writeH(HandleCode::HardPointer, common.linetype);
    }
}

void ObjectWriter::text(std::string_view utf8)
{
    if (r2007())
        streams_.writeText(toUtf16(utf8));
    else
        data_.writeTV(toDwgText(utf8));
}

std::vector<std::uint8_t> ObjectWriter::finish()
{
    if (r2010())
        return streams_.object2010(type_);
    if (r2007())
        return streams_.object2007(type_);
    data_.patchRL(bitSizeAt_, std::uint32_t(data_.bitCount()));
    data_.append(refs_);
    const std::vector<std::uint8_t>& body = data_.bytes();

    BitWriter size;
    size.writeMS(std::uint32_t(body.size()));
    std::vector<std::uint8_t> bytes;
    bytes.reserve(size.bytes().size() + body.size() + 2);
    bytes.insert(bytes.end(), size.bytes().begin(), size.bytes().end());
    bytes.insert(bytes.end(), body.begin(), body.end());
    const std::uint16_t crc = crc16(kCrcSeed, bytes.data(), bytes.size());
    bytes.push_back(std::uint8_t(crc & 0xff));
    bytes.push_back(std::uint8_t(crc >> 8));
    return bytes;
}

}  // namespace unplot::engine::dwg
