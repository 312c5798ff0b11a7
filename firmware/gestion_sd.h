// SD card: start-up, occupancy, the daily directory and hourly log files,
// the tag block that precedes every record, the card report and the
// formatter.
#pragma once

#include <stdint.h>

constexpr uint8_t CFICHERO_VDM = 0;       // AIS sentences
constexpr uint8_t CFICHERO_TIDELINK = 1;  // TIDELINK data blocks

// ---- Logging (gestion_sd.cpp) -------------------------------------------------

// No card and no files (start-up).
void inicializacion_dispositivo_sd();
// One attempt to start the card and mount its volume.
void inicializacion_sd();
// Free clusters of the mounted volume (-1 when the FAT cannot be read).
int32_t clusters_libres_sd();
// Used space of the volume in whole percent.
uint8_t porcentaje_ocupacion_sd();
// Finds or makes today's directory.
void creacion_nuevo_directorio();
// Opens (appending) or creates this hour's AIS or TIDELINK file.
void creacion_nuevo_fichero(uint8_t ctipo_fichero);
// Closes the log files of the hour that ended.
void cierre_ficheros_sd();
// A new hour key: the files of the hour that ended are closed, and the new
// hour's directory and files get their attempts afresh.
void cambio_hora_registro(uint32_t lfecha);
// The hour key of the system time: a new one starts a new hour's log.
void comprobacion_hora_registro();
// One due step towards the hour's log (the directory, else the file of that
// type): 1 when an attempt was made, 0 when none was due.
uint8_t paso_creacion_registro(uint8_t ctipo_fichero);
// The log file of that type for the hour of the clock (read now when
// `bleer_reloj`; otherwise the hour of the last tag block built, so the
// record lands in the hour its tag block names), opened now if its attempt
// is due. True when the record can be written.
bool fichero_registro_listo(uint8_t ctipo_fichero, bool bleer_reloj);
// The tag block \s:name,c:unix time,t:L or R*hh\ in stsd.ctimestamp.
void creacion_timestamp(uint8_t cin_live);
// The tag block into the open AIS (0) or TIDELINK (1) file, synchronised.
void inserto_timestamp_fichero(uint8_t ctipo_fichero);
// The tag block on sensor port 0 or 1, waiting until it has left.
void inserto_timestamp_canal(uint8_t ccanal);
// A record after its tag block: the bytes, synchronised.
void inserto_registro_fichero(uint8_t ctipo_fichero, const uint8_t* pcdatos, uint16_t ibytes);

// Text being built in pctrama (stsd.cbytes_name_file bytes, at most 64), with
// the running checksum of stsd.
void inserto_byte_name_file(char* pctrama, uint8_t cdato);
void inserto_variable_name_file(char* pctrama, uint32_t laux, uint8_t cnumero_cifras);
void inserto_variable_name_file_hex(char* pctrama, uint32_t laux, uint8_t cnumero_cifras);
void inserto_mensaje_name_file(char* pctrama, const char* pcmensaje);

// ---- Card report (gestion_sd_info.cpp) -----------------------------------------

// 1 after printing, 0 when the register or block cannot be read.
uint8_t cidDmp();
uint8_t csdDmp();
uint8_t partDmp();
void volDmp();

// ---- Formatter (format_sd.cpp) ----------------------------------------------

// Erases the card and writes a partition table and a FAT16 (standard
// capacity) or FAT32 (high capacity) volume on its erase boundaries. An
// error halts for good: the watchdog restarts the station.
void formateo_sd();
