#pragma once

// Resource ids of the wizard's images, all drawn by `drelk_register_images`.
enum drelk_image_id { drelk_icon_id = 501, drelk_watermark_id = 311, drelk_header_id = 312 };

// Registers the program's icon, the exterior pages' watermark and the steps' header image.
void drelk_register_images();
