// The card report printed while the card starts: identification, card data,
// partition table and volume geometry.
#include <Arduino.h>
#include <SdFat.h>

#include "comunicaciones_pc.h"
#include "declaraciones.h"
#include "gestion_sd.h"

namespace {

void texto(const char* pctexto) {
    SerialUSB.print(pctexto);
}

void valor(const char* pcetiqueta, uint32_t lvalor) {
    texto(pcetiqueta);
    SerialUSB.print(static_cast<uint32_t>(lvalor));
    linea();
}

// Bits [ialto .. ibajo] of a register sent most significant byte first, as
// the register's bit numbers give them (bit 127 first).
uint32_t bits_registro(const uint8_t* pcregistro, uint8_t calto, uint8_t cbajo) {
    uint32_t lvalor = 0;
    for (int16_t bit = calto; bit >= cbajo; --bit) {
        const uint8_t cbyte = pcregistro[15 - bit / 8];
        lvalor = (lvalor << 1) | ((cbyte >> (bit % 8)) & 1u);
    }
    return lvalor;
}

uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

uint8_t cidDmp() {
    cid_t cid{};
    if (!sd.card()->readCID(&cid)) {
        sd.errorPrint("readCID failed");
        return 0;
    }
    texto("\nManufacturer ID: ");
    SerialUSB.print(static_cast<unsigned int>(cid.mid), HEX);
    linea();
    texto("OEM ID: ");
    SerialUSB.print(cid.oid[0]);
    SerialUSB.print(cid.oid[1]);
    linea();
    texto("Product: ");
    for (char c : cid.pnm) {
        SerialUSB.print(c);
    }
    linea();
    texto("\nVersion: ");
    SerialUSB.print(static_cast<unsigned int>(cid.prv >> 4));
    texto(".");
    SerialUSB.print(static_cast<unsigned int>(cid.prv & 0x0F));
    linea();
    const uint32_t lserie = (static_cast<uint32_t>(cid.psn[0]) << 24) |
                            (static_cast<uint32_t>(cid.psn[1]) << 16) |
                            (static_cast<uint32_t>(cid.psn[2]) << 8) | cid.psn[3];
    texto("Serial number: ");
    SerialUSB.print(static_cast<uint32_t>(lserie), HEX);
    linea();
    // 4 reserved bits, the year since 2000 in 8 bits, the month in 4.
    const uint16_t ifecha = static_cast<uint16_t>((cid.mdt[0] << 8) | cid.mdt[1]);
    texto("Manufacturing date: ");
    SerialUSB.print(static_cast<unsigned int>(ifecha & 0x0F));
    texto("/");
    SerialUSB.print(static_cast<unsigned int>(2000 + ((ifecha >> 4) & 0xFF)));
    linea();
    linea();
    return 1;
}

uint8_t csdDmp() {
    csd_t csd{};
    if (!sd.card()->readCSD(&csd)) {
        sd.errorPrint("readCSD failed");
        return 0;
    }
    const uint32_t lversion = bits_registro(csd.raw, 127, 126);
    if (lversion > 1) {
        texto("csd version error\n");
        return 0;
    }
    eraseSize = bits_registro(csd.raw, 45, 39) + 1;  // SECTOR_SIZE
    texto("cardSize: ");
    SerialUSB.print(static_cast<double>(cardSize) * 0.000512, 2);
    texto(" MB (MB = 1,000,000 bytes)\n");
    texto("flashEraseSize: ");
    SerialUSB.print(static_cast<uint32_t>(eraseSize));
    texto(" blocks\n");
    texto("eraseSingleBlock: ");
    texto(bits_registro(csd.raw, 46, 46) != 0 ? "true\n" : "false\n");  // ERASE_BLK_EN
    return 1;
}

uint8_t partDmp() {
    uint8_t* cbloque = cache;
    if (!sd.card()->readBlock(0, cbloque)) {
        sd.errorPrint("read MBR failed");
        return 0;
    }
    for (uint8_t k = 0; k < 4; ++k) {
        const uint8_t* pentrada = &cbloque[0x1BE + 16 * k];
        if ((pentrada[0] != 0 && pentrada[0] != 0x80) || le32(&pentrada[8]) > cardSize) {
            texto("\nNo MBR. Assuming Super Floppy format.\n");
            return 1;
        }
    }
    texto("\nSD Partition Table\n");
    texto("part,boot,type,start,length\n");
    for (uint8_t k = 0; k < 4; ++k) {
        const uint8_t* pentrada = &cbloque[0x1BE + 16 * k];
        SerialUSB.print(static_cast<unsigned int>(k + 1));
        texto(",");
        SerialUSB.print(static_cast<unsigned int>(pentrada[0]), HEX);
        texto(",");
        SerialUSB.print(static_cast<unsigned int>(pentrada[4]), HEX);
        texto(",");
        SerialUSB.print(static_cast<uint32_t>(le32(&pentrada[8])));
        texto(",");
        SerialUSB.print(static_cast<uint32_t>(le32(&pentrada[12])));
        linea();
    }
    return 1;
}

void volDmp() {
    FatVolume* pvolumen = sd.vol();
    texto("\nVolume is FAT");
    SerialUSB.print(static_cast<unsigned int>(pvolumen->fatType()));
    linea();
    valor("blocksPerCluster: ", pvolumen->blocksPerCluster());
    valor("clusterCount: ", pvolumen->clusterCount());
    const int32_t llibres = clusters_libres_sd();
    texto("freeClusters: ");
    SerialUSB.print(static_cast<int32_t>(llibres));
    linea();
    texto("freeSpace: ");
    const double dlibres = llibres < 0 ? 0.0 : static_cast<double>(llibres);
    SerialUSB.print(dlibres * pvolumen->blocksPerCluster() * 0.000512, 2);
    texto(" MB (MB = 1,000,000 bytes)\n");
    valor("fatStartBlock: ", pvolumen->fatStartBlock());
    valor("fatCount: ", pvolumen->fatCount());
    valor("blocksPerFat: ", pvolumen->blocksPerFat());
    valor("rootDirStart: ", pvolumen->rootDirStart());
    valor("dataStartBlock: ", pvolumen->dataStartBlock());
    if (eraseSize != 0 && pvolumen->dataStartBlock() % eraseSize != 0) {
        texto("Data area is not aligned on flash erase boundaries!\n");
        texto("Format the card with the station's FORMAT SD or the SD Association's formatter.\n");
    }
}
