// The SD card log: card start-up, occupancy, a directory per UTC day with an
// AIS and a TIDELINK file per UTC hour, and the tag block that precedes every
// record.
#include "gestion_sd.h"

#include <Arduino.h>
#include <SdFat.h>
#include <sodaq_wdt.h>

#include "UnixTime.h"
#include "comunicaciones_pc.h"
#include "declaraciones.h"
#include "ktr09_board.h"
#include "main.h"
#include "mcp7940.h"

namespace {

constexpr uint8_t CBYTES_TEXTO_SD = sizeof(stsd.ctimestamp);
constexpr uint8_t CLECTURAS_RELOJ = 20;
constexpr uint8_t CINTENTOS_DIRECTORIO = 20;
constexpr uint8_t CINTENTOS_FICHERO = 29;
constexpr uint8_t COCUPACION_MAXIMA = 99;
// Seconds before a failed directory or file is tried again: counted down by
// the tick's second, 2 leaves a whole second at least between attempts.
constexpr uint8_t CESPERA_REINTENTO = 2;
constexpr uint32_t LBLOQUES_SDXC = 70000000;

void texto(const char* pctexto) {
    SerialUSB.print(pctexto);
}

// Up to 20 reads of the clock, feeding the watchdog between them.
bool lectura_reloj() {
    for (uint8_t i = 0; i < CLECTURAS_RELOJ; ++i) {
        sodaq_wdt_reset();
        if (lectura_fecha() == 1) {
            return true;
        }
    }
    return false;
}

void dos_cifras(String& destino, uint8_t cvalor) {
    destino += static_cast<char>('0' + (cvalor / 10) % 10);
    destino += static_cast<char>('0' + cvalor % 10);
}

const char* tipo_tarjeta(uint32_t lbloques) {
    switch (sd.card()->type()) {
        case SD_CARD_TYPE_SD1:
            return "SD1\n";
        case SD_CARD_TYPE_SD2:
            return "SD2\n";
        case SD_CARD_TYPE_SDHC:
            return lbloques < LBLOQUES_SDXC ? "SDHC\n" : "SDXC\n";
        default:
            return "Unknown\n";
    }
}

// The volume of partition 1, or one without partition table, with a root
// directory.
bool montaje_volumen() {
    if (!sd.vol()->init(sd.card(), 1) && !sd.vol()->init(sd.card(), 0)) {
        return false;
    }
    File raiz;
    const bool bdirectorio = raiz.openRoot(sd.vol()) && raiz.isDir();
    raiz.close();
    return bdirectorio;
}

File& fichero(uint8_t ctipo_fichero) {
    return ctipo_fichero == CFICHERO_VDM ? stsd.ffichero_vdm : stsd.ffichero_tidelink;
}

// The directory counts as there when it opens as a directory and its name
// opens too, or the clock was read (the name is then today's).
bool existe_directorio(bool breloj_leido) {
    String ruta("/");
    ruta += stsd.sdirectorio;
    ruta += "/";
    File directorio = sd.open(ruta.c_str());
    const bool bdirectorio = directorio.isOpen() && directorio.isDir();
    directorio.close();
    File nombre = sd.open(stsd.sdirectorio.c_str());
    const bool bnombre = nombre.isOpen();
    nombre.close();
    return bdirectorio && (bnombre || breloj_leido);
}

void sin_registro() {
    stsd.ccreacion_nuevo_directorio = 0;
    stsd.ccreacion_nuevo_fichero[CFICHERO_VDM] = 0;
    stsd.ccreacion_nuevo_fichero[CFICHERO_TIDELINK] = 0;
}

}  // namespace

void inicializacion_dispositivo_sd() {
    stsd.cintentos_creacion_fichero[CFICHERO_VDM] = 0;
    stsd.cintentos_creacion_fichero[CFICHERO_TIDELINK] = 0;
    stsd.cespera_creacion_fichero[CFICHERO_VDM] = 0;
    stsd.cespera_creacion_fichero[CFICHERO_TIDELINK] = 0;
    stsd.cintentos_creacion_directorio = 0;
    stsd.cespera_creacion_directorio = 0;
    stsd.ccreacion_nuevo_directorio = 1;
    stsd.cdelay = 0;
    stsd.ctarjeta_inicializada = 0;
    stsd.ctarjeta_perdida = 0;
    stsd.lfecha_fichero = 0;
    stsd.cporcentaje_full = 0;
    stsd.cbytes_name_file = 0;
    stsd.ccreacion_nuevo_fichero[CFICHERO_VDM] = 0;
    stsd.ccreacion_nuevo_fichero[CFICHERO_TIDELINK] = 0;
    stsd.snombre_fichero_dvm = "";
    stsd.snombre_fichero_tidelink = "";
    stsd.sdirectorio = "";
}

void inicializacion_sd() {
    ++creintentos_sd;
    escribo_mensaje(1, "Inicializacion SD");
    const uint32_t linicio = millis();
    if (!sd.cardBegin(board::kSdChipSelect, SD_SCK_MHZ(2))) {
        escribo_mensaje(1, "Error inicializacion SD");
        if (sd.cardErrorCode() != 0) {
            sd.errorPrint("card begin");
        }
        stsd.cdelay = 2;
        return;
    }
    cardSize = sd.card()->cardSize();
    if (cardSize == 0) {
        sd.errorPrint("cardSize failed");
        return;
    }
    texto("\ninit time: ");
    SerialUSB.print(static_cast<uint32_t>(millis() - linicio));
    texto(" ms\n");
    texto("\nCard type: ");
    texto(tipo_tarjeta(cardSize));
    if (cidDmp() == 0 || csdDmp() == 0) {
        return;
    }
    uint32_t locr = 0;
    if (!sd.card()->readOCR(&locr)) {
        sd.errorPrint("\nreadOCR failed");
        return;
    }
    texto("OCR: ");
    SerialUSB.print(static_cast<uint32_t>(locr), HEX);
    if (partDmp() == 0) {
        return;
    }
    if (!montaje_volumen()) {
        sd.errorPrint("\nFile System initialization failed.\n");
        return;
    }
    volDmp();
    linea_asteriscos(42);
    texto("\tTarget SD OK");
    linea();
    linea_asteriscos(42);
    stsd.ctarjeta_inicializada = 1;
}

// The first FAT read block by block, feeding the watchdog between blocks: on
// a card of gigabytes the FAT is megabytes long, and reading it at 2 MHz in
// one go outlasts the watchdog's second. Files are synchronised after every
// record, so the card holds the FAT as the library sees it.
int32_t clusters_libres_sd() {
    FatVolume* pvolumen = sd.vol();
    const uint8_t ctipo = pvolumen->fatType();
    if (ctipo != 16 && ctipo != 32) {
        return -1;
    }
    const uint16_t ientradas_bloque = ctipo == 16 ? 256 : 128;
    const uint32_t lultimo = pvolumen->clusterCount() + 1;
    uint8_t cbloque[512];
    uint32_t llibres = 0;
    uint32_t lcluster = 0;
    while (lcluster <= lultimo) {
        sodaq_wdt_reset();
        if (!sd.card()->readBlock(pvolumen->fatStartBlock() + lcluster / ientradas_bloque,
                                  cbloque)) {
            return -1;
        }
        for (uint16_t i = 0; i < ientradas_bloque && lcluster <= lultimo; ++i, ++lcluster) {
            const uint8_t* pcentrada = &cbloque[ctipo == 16 ? 2 * i : 4 * i];
            uint32_t lvalor = pcentrada[0] | static_cast<uint32_t>(pcentrada[1]) << 8;
            if (ctipo == 32) {
                lvalor |= static_cast<uint32_t>(pcentrada[2]) << 16 |
                          static_cast<uint32_t>(pcentrada[3] & 0x0F) << 24;
            }
            llibres += lcluster >= 2 && lvalor == 0 ? 1 : 0;
        }
    }
    return static_cast<int32_t>(llibres);
}

uint8_t porcentaje_ocupacion_sd() {
    const uint32_t ltotal = sd.vol()->clusterCount();
    const int32_t llibres = clusters_libres_sd();
    // A volume that gives no count is taken as full: nothing more goes on it.
    if (ltotal == 0 || llibres < 0) {
        return 100;
    }
    const float flibre = static_cast<float>(llibres) * 100.0f / static_cast<float>(ltotal);
    const float focupado = 100.0f - flibre;
    if (ktr09.cextraigo != 0) {
        texto("Tamano:");
        SerialUSB.print(static_cast<uint32_t>(ltotal));
        texto(" Libres:");
        SerialUSB.print(static_cast<int32_t>(llibres));
        texto(" Porcentaje libre:");
        SerialUSB.print(flibre, 2);
        texto("% ");
        texto("Porcentaje ocupado:");
        SerialUSB.print(focupado, 2);
        texto("% ");
    }
    return static_cast<uint8_t>(focupado);
}

// The day and hour of the log being opened: its hour key.
void fecha_registro(uint8_t* pcano, uint8_t* pcmes, uint8_t* pcdia, uint8_t* pchora) {
    const uint32_t lfecha = stsd.lfecha_fichero;
    *pcmes = static_cast<uint8_t>(lfecha / 100000000u);
    *pcdia = static_cast<uint8_t>(lfecha / 1000000u % 100u);
    *pcano = static_cast<uint8_t>(lfecha / 10000u % 100u);
    *pchora = static_cast<uint8_t>(lfecha / 100u % 100u);
}

void creacion_nuevo_directorio() {
    texto("Intento creacion directorio numero: ");
    SerialUSB.print(static_cast<unsigned int>(stsd.cintentos_creacion_directorio));
    linea();
    ++stsd.cintentos_creacion_directorio;
    const bool breloj_leido = lectura_reloj();
    if (stsd.cintentos_creacion_directorio > CINTENTOS_DIRECTORIO) {
        stsd.snombre_fichero_dvm = "";
        stsd.snombre_fichero_tidelink = "";
        sin_registro();
    }
    uint8_t cano = 0;
    uint8_t cmes = 0;
    uint8_t cdia = 0;
    uint8_t chora = 0;
    fecha_registro(&cano, &cmes, &cdia, &chora);
    String nombre;
    dos_cifras(nombre, cano);
    nombre += "_";
    dos_cifras(nombre, cmes);
    nombre += "_";
    dos_cifras(nombre, cdia);
    stsd.sdirectorio = nombre;
    if (existe_directorio(breloj_leido)) {
        escribo_mensaje(1, "Directorio ya existe");
        stsd.ccreacion_nuevo_fichero[CFICHERO_VDM] = 1;
        stsd.ccreacion_nuevo_fichero[CFICHERO_TIDELINK] = 1;
        stsd.ccreacion_nuevo_directorio = 0;
        return;
    }
    const uint8_t cocupado = porcentaje_ocupacion_sd();
    texto("Porcentaje ocupado SD:");
    SerialUSB.print(static_cast<unsigned int>(cocupado));
    texto(" %");
    linea();
    if (cocupado >= COCUPACION_MAXIMA) {
        escribo_mensaje(1, "Limite maximo de memoria SD superado");
        stsd.cintentos_creacion_directorio = 0;
        stsd.cintentos_creacion_fichero[CFICHERO_VDM] = 0;
        stsd.cintentos_creacion_fichero[CFICHERO_TIDELINK] = 0;
        sin_registro();
        return;
    }
    if (!sd.mkdir(stsd.sdirectorio.c_str(), true)) {
        escribo_mensaje(1, "Error creando directorio.");
        stsd.cespera_creacion_directorio = CESPERA_REINTENTO;
        return;
    }
    texto("Nuevo directorio creado: ");
    escribo_mensaje(1, stsd.sdirectorio.c_str());
    stsd.cintentos_creacion_directorio = 0;
    stsd.ccreacion_nuevo_directorio = 0;
    stsd.ccreacion_nuevo_fichero[CFICHERO_VDM] = 1;
    stsd.ccreacion_nuevo_fichero[CFICHERO_TIDELINK] = 1;
}

void creacion_nuevo_fichero(uint8_t ctipo_fichero) {
    if (ctipo_fichero > CFICHERO_TIDELINK) {
        return;
    }
    uint8_t& cintentos = stsd.cintentos_creacion_fichero[ctipo_fichero];
    linea();
    texto("Intento creacion fichero numero: ");
    SerialUSB.print(static_cast<unsigned int>(cintentos));
    linea();
    ++cintentos;
    if (cintentos > CINTENTOS_FICHERO) {
        stsd.ccreacion_nuevo_fichero[ctipo_fichero] = 4;
        return;
    }
    lectura_reloj();
    uint8_t cano = 0;
    uint8_t cmes = 0;
    uint8_t cdia = 0;
    uint8_t chora = 0;
    fecha_registro(&cano, &cmes, &cdia, &chora);
    String ruta = stsd.sdirectorio;
    ruta += "/";
    dos_cifras(ruta, chora);
    ruta += ctipo_fichero == CFICHERO_VDM ? "_vdm" : "_tlk";
    ruta += ".txt";
    File existente = sd.open(ruta.c_str(), O_READ);
    texto(existente.isOpen() ? "Fichero existente: " : "Nuevo fichero creado: ");
    existente.close();
    escribo_mensaje(1, ruta.c_str());
    (ctipo_fichero == CFICHERO_VDM ? stsd.snombre_fichero_dvm : stsd.snombre_fichero_tidelink) =
        ruta.c_str();
    File& destino = fichero(ctipo_fichero);
    destino = sd.open(ruta.c_str(), O_WRITE | O_CREAT | O_APPEND);
    // A file that did not open is tried again a while later, within the
    // attempts allowed, rather than logged into as if it were open.
    if (!destino.isOpen()) {
        stsd.cespera_creacion_fichero[ctipo_fichero] = CESPERA_REINTENTO;
        return;
    }
    stsd.ccreacion_nuevo_fichero[ctipo_fichero] = 2;
    cintentos = 0;
}

void cierre_ficheros_sd() {
    for (uint8_t k = 0; k < 2; ++k) {
        if (stsd.ccreacion_nuevo_fichero[k] == 2) {
            fichero(k).close();
            stsd.ccreacion_nuevo_fichero[k] = 0;
        }
    }
}

void cambio_hora_registro(uint32_t lfecha) {
    stsd.lfecha_fichero = lfecha;
    stsd.ccreacion_nuevo_directorio = 1;
    cierre_ficheros_sd();
    // A file given up in the hour that ended is tried again in the new one.
    for (uint8_t k = 0; k < 2; ++k) {
        stsd.ccreacion_nuevo_fichero[k] = 0;
        stsd.cintentos_creacion_fichero[k] = 0;
        stsd.cespera_creacion_fichero[k] = 0;
    }
    stsd.cintentos_creacion_directorio = 0;
    stsd.cespera_creacion_directorio = 0;
}

namespace {

// The hour key of the system time.
uint32_t clave_hora_sistema() {
    return creacion_variable_fecha(ktr09.cano_utc, ktr09.cmes_utc, ktr09.cdia_utc, ktr09.chora_utc,
                                   0);
}

void hora_nueva(uint32_t lfecha) {
    if (lfecha != stsd.lfecha_fichero) {
        cambio_hora_registro(lfecha);
    }
}

// The hour of a record: the clock's now, or the tag block's, which a file
// attempt's own clock read must not move on.
void hora_registro(bool bleer_reloj) {
    if (bleer_reloj) {
        lectura_fecha();
    }
    hora_nueva(bleer_reloj ? clave_hora_sistema() : stsd.lfecha_timestamp);
}

}  // namespace

void comprobacion_hora_registro() {
    hora_nueva(clave_hora_sistema());
}

uint8_t paso_creacion_registro(uint8_t ctipo_fichero) {
    if (stsd.ccreacion_nuevo_directorio == 1) {
        if (stsd.cespera_creacion_directorio != 0) {
            return 0;
        }
        creacion_nuevo_directorio();
        return 1;
    }
    if (stsd.ccreacion_nuevo_fichero[ctipo_fichero] != 1 ||
        stsd.cespera_creacion_fichero[ctipo_fichero] != 0) {
        return 0;
    }
    creacion_nuevo_fichero(ctipo_fichero);
    return 1;
}

bool fichero_registro_listo(uint8_t ctipo_fichero, bool bleer_reloj) {
    if (ctipo_fichero > CFICHERO_TIDELINK || stsd.ctarjeta_inicializada != 1 ||
        ktr09.csincronizada != 1) {
        return false;
    }
    hora_registro(bleer_reloj);
    // The directory and then the file, each when its attempt is due.
    if (paso_creacion_registro(ctipo_fichero) == 1 && stsd.ccreacion_nuevo_directorio == 0) {
        paso_creacion_registro(ctipo_fichero);
    }
    return stsd.ccreacion_nuevo_fichero[ctipo_fichero] == 2;
}

// ---- Text and tag block ---------------------------------------------------------

void inserto_byte_name_file(char* pctrama, uint8_t cdato) {
    // The text holds 64 bytes; longer text is cut, never stored past them.
    if (stsd.cbytes_name_file < CBYTES_TEXTO_SD) {
        pctrama[stsd.cbytes_name_file] = static_cast<char>(cdato);
        ++stsd.cbytes_name_file;
    }
    if (stsd.ccalculo_checksum_nmea == 1) {
        stsd.cchecksum_nmea = static_cast<uint8_t>(stsd.cchecksum_nmea ^ cdato);
    }
}

void inserto_variable_name_file(char* pctrama, uint32_t laux, uint8_t cnumero_cifras) {
    char ccifras[10];
    uint8_t n = 0;
    do {
        ccifras[n++] = static_cast<char>('0' + laux % 10);
        laux /= 10;
    } while ((laux != 0 || n < cnumero_cifras) && n < sizeof(ccifras));
    while (n > 0) {
        inserto_byte_name_file(pctrama, static_cast<uint8_t>(ccifras[--n]));
    }
}

void inserto_variable_name_file_hex(char* pctrama, uint32_t laux, uint8_t cnumero_cifras) {
    for (uint8_t k = cnumero_cifras; k > 0 && k <= 8; --k) {
        const uint8_t cdigito = static_cast<uint8_t>((laux >> (4 * (k - 1))) & 0x0F);
        inserto_byte_name_file(pctrama, static_cast<uint8_t>(cvalores_ascii[cdigito]));
    }
}

void inserto_mensaje_name_file(char* pctrama, const char* pcmensaje) {
    while (*pcmensaje != 0) {
        inserto_byte_name_file(pctrama, static_cast<uint8_t>(*pcmensaje++));
    }
}

void creacion_timestamp(uint8_t cin_live) {
    lectura_fecha();
    char* pctexto = stsd.ctimestamp;
    stsd.cchecksum_nmea = 0;
    stsd.ccalculo_checksum_nmea = 0;
    stsd.cbytes_name_file = 0;
    inserto_byte_name_file(pctexto, '\\');
    stsd.ccalculo_checksum_nmea = 1;
    inserto_mensaje_name_file(pctexto, "s:");
    // The name field holds 20 characters with no terminator when it is full.
    for (uint8_t i = 0;
         i < sizeof(configuracion_ktr09.cnombre) && configuracion_ktr09.cnombre[i] != 0; ++i) {
        inserto_byte_name_file(pctexto, static_cast<uint8_t>(configuracion_ktr09.cnombre[i]));
    }
    inserto_mensaje_name_file(pctexto, ",c:");
    inserto_variable_name_file(pctexto, conversion_fecha_a_unix(), 0);
    stsd.lfecha_timestamp = clave_hora_sistema();
    inserto_mensaje_name_file(pctexto, ",t:");
    inserto_byte_name_file(pctexto, cin_live == 1 ? 'L' : 'R');
    stsd.ccalculo_checksum_nmea = 0;
    inserto_byte_name_file(pctexto, '*');
    inserto_variable_name_file_hex(pctexto, stsd.cchecksum_nmea, 2);
    inserto_byte_name_file(pctexto, '\\');
}

namespace {

// A record the card did not take. A card that still answers has a volume
// that takes no more (full, or a bad block): that file rests until the next
// hour. A card that does not answer was pulled out or failed: the files are
// dropped and the card is started again from the beginning, so that the log
// goes on once a card answers. What comes meanwhile has nowhere to go.
void registro_fallido(uint8_t ctipo_fichero) {
    uint32_t locr = 0;
    if (sd.card()->readOCR(&locr)) {
        escribo_mensaje(1, "Error escritura SD");
        fichero(ctipo_fichero).close();
        stsd.ccreacion_nuevo_fichero[ctipo_fichero] = 4;
        return;
    }
    escribo_mensaje(1, "Tarjeta SD perdida");
    cierre_ficheros_sd();
    inicializacion_dispositivo_sd();
    stsd.ctarjeta_perdida = 1;
    stsd.cdelay = CESPERA_REINTENTO;
    creintentos_sd = 0;
    digitalWrite(board::kSdReady, LOW);
}

void escribo_registro(uint8_t ctipo_fichero, const void* pdatos, uint16_t ibytes) {
    if (ctipo_fichero > CFICHERO_TIDELINK || stsd.ccreacion_nuevo_fichero[ctipo_fichero] != 2) {
        return;
    }
    File& destino = fichero(ctipo_fichero);
    if (destino.write(pdatos, ibytes) != ibytes || !destino.sync()) {
        registro_fallido(ctipo_fichero);
    }
}

}  // namespace

void inserto_timestamp_fichero(uint8_t ctipo_fichero) {
    escribo_registro(ctipo_fichero, stsd.ctimestamp, stsd.cbytes_name_file);
}

void inserto_timestamp_canal(uint8_t ccanal) {
    if (ccanal > 1) {
        return;
    }
    Uart& uart = uart_canal(ccanal);
    uart.write(reinterpret_cast<const uint8_t*>(stsd.ctimestamp), stsd.cbytes_name_file);
    uart.flush();
}

void inserto_registro_fichero(uint8_t ctipo_fichero, const uint8_t* pcdatos, uint16_t ibytes) {
    escribo_registro(ctipo_fichero, pcdatos, ibytes);
}
