#include "render/video_file.hpp"

extern "C"
{
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <cmath>
#include <limits>
#include <vector>

namespace
{

std::string ffmpegError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// The sample rates FFmpeg's AAC encoder takes.
bool aacTakesRate(int rate)
{
    for (int allowed : {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350})
        if (rate == allowed)
            return true;
    return false;
}

} // namespace

struct VideoFileState
{
    VideoSettings settings{};
    AVFormatContext* output = nullptr;
    AVCodecContext* video = nullptr;
    AVStream* videoStream = nullptr;
    SwsContext* scaler = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    long long frameIndex = 0;
    bool headerWritten = false;

    // The music, read as packets.
    AVFormatContext* music = nullptr;
    int musicStream = -1;
    AVStream* audioStream = nullptr;
    AVPacket* musicPacket = nullptr;
    bool musicDone = false;
    double audioWrittenSeconds = 0; // how far the audio in the file reaches

    // MP4 only: decoded, resampled and encoded as AAC.
    AVCodecContext* decoder = nullptr;
    AVCodecContext* audio = nullptr;
    SwrContext* resampler = nullptr;
    AVAudioFifo* fifo = nullptr;
    AVFrame* decoded = nullptr;
    AVFrame* audioFrame = nullptr;
    long long resampledSamples = 0; // of the music from its start, at the encoder's rate
    long long encodedSamples = 0;

    ~VideoFileState()
    {
        sws_freeContext(scaler);
        av_frame_free(&frame);
        av_packet_free(&packet);
        av_packet_free(&musicPacket);
        avcodec_free_context(&video);
        avcodec_free_context(&decoder);
        avcodec_free_context(&audio);
        swr_free(&resampler);
        if (fifo != nullptr)
            av_audio_fifo_free(fifo);
        av_frame_free(&decoded);
        av_frame_free(&audioFrame);
        if (music != nullptr)
            avformat_close_input(&music);
        if (output != nullptr)
        {
            if (output->pb != nullptr)
                avio_closep(&output->pb);
            avformat_free_context(output);
        }
    }

    bool openVideoEncoder(std::string& problem);
    bool openMusic(std::string& problem);
    bool openAacEncoder(std::string& problem);
    bool writePackets(AVCodecContext* encoder, AVStream* stream, std::string& problem);
    bool encodeVideo(const AVFrame* input, std::string& problem);
    bool feedAudioUntil(double seconds, std::string& problem);
    bool copyMusicPacket(std::string& problem);
    bool decodeMusicPacket(bool flush, std::string& problem);
    bool resampleInto(const AVFrame* input, std::string& problem);
    bool encodeAudio(bool flush, std::string& problem);
};

bool VideoFileState::openVideoEncoder(std::string& problem)
{
    const bool lossless = settings.kind == VideoKind::matroska;
    const AVCodec* codec = lossless ? avcodec_find_encoder(AV_CODEC_ID_FFV1) : avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr && !lossless)
        codec = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (codec == nullptr)
    {
        problem = lossless ? "this FFmpeg has no FFV1 encoder" : "this FFmpeg has no H.264 encoder (libx264)";
        return false;
    }
    if (!lossless && (settings.width % 2 != 0 || settings.height % 2 != 0))
    {
        problem = "H.264 in yuv420p needs an even width and height (use --size or a .mkv)";
        return false;
    }
    video = avcodec_alloc_context3(codec);
    const AVRational rate = av_d2q(settings.fps, 1000000);
    video->width = settings.width;
    video->height = settings.height;
    video->time_base = av_inv_q(rate);
    video->framerate = rate;
    video->sample_aspect_ratio = {1, 1};
    video->thread_count = 0;
    if (lossless)
    {
        video->pix_fmt = AV_PIX_FMT_0RGB32;
        av_opt_set_int(video->priv_data, "level", 3, 0);
        av_opt_set_int(video->priv_data, "slicecrc", 1, 0);
    }
    else
    {
        video->pix_fmt = AV_PIX_FMT_YUV420P;
        video->color_range = AVCOL_RANGE_MPEG;
        video->color_primaries = AVCOL_PRI_BT709;
        video->color_trc = AVCOL_TRC_BT709;
        video->colorspace = AVCOL_SPC_BT709;
        av_opt_set(video->priv_data, "preset", "fast", 0);
        av_opt_set(video->priv_data, "crf", "16", 0);
    }
    if ((output->oformat->flags & AVFMT_GLOBALHEADER) != 0)
        video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int status = avcodec_open2(video, codec, nullptr);
    if (status < 0)
    {
        problem = std::string("cannot open the ") + codec->name + " encoder: " + ffmpegError(status);
        return false;
    }
    videoStream = avformat_new_stream(output, nullptr);
    avcodec_parameters_from_context(videoStream->codecpar, video);
    videoStream->time_base = video->time_base;
    videoStream->avg_frame_rate = rate;

    scaler = sws_getContext(settings.width, settings.height, AV_PIX_FMT_RGBA, settings.width, settings.height,
                            video->pix_fmt, lossless ? SWS_POINT : SWS_BILINEAR | SWS_ACCURATE_RND, nullptr, nullptr,
                            nullptr);
    if (scaler == nullptr)
    {
        problem = "cannot convert the frames' pixels for the encoder";
        return false;
    }
    if (!lossless)
        // Full-range RGB in, BT.709 limited-range YUV out.
        sws_setColorspaceDetails(scaler, sws_getCoefficients(SWS_CS_ITU709), 1, sws_getCoefficients(SWS_CS_ITU709), 0,
                                 0, 1 << 16, 1 << 16);
    frame = av_frame_alloc();
    frame->format = video->pix_fmt;
    frame->width = settings.width;
    frame->height = settings.height;
    status = av_frame_get_buffer(frame, 0);
    if (status < 0)
    {
        problem = "out of memory for a frame: " + ffmpegError(status);
        return false;
    }
    return true;
}

bool VideoFileState::openMusic(std::string& problem)
{
    int status = avformat_open_input(&music, settings.musicPath.c_str(), nullptr, nullptr);
    if (status >= 0)
        status = avformat_find_stream_info(music, nullptr);
    if (status >= 0)
        status = av_find_best_stream(music, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (status < 0)
    {
        problem = "cannot read the music " + settings.musicPath + ": " + ffmpegError(status);
        return false;
    }
    musicStream = status;
    musicPacket = av_packet_alloc();
    const AVStream* in = music->streams[musicStream];
    if (settings.kind == VideoKind::matroska)
    {
        // Copied as it is: the same codec, the same packets.
        audioStream = avformat_new_stream(output, nullptr);
        avcodec_parameters_copy(audioStream->codecpar, in->codecpar);
        audioStream->codecpar->codec_tag = 0;
        audioStream->time_base = in->time_base;
        return true;
    }
    return openAacEncoder(problem);
}

bool VideoFileState::openAacEncoder(std::string& problem)
{
    const AVStream* in = music->streams[musicStream];
    const AVCodec* decoderCodec = avcodec_find_decoder(in->codecpar->codec_id);
    const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (decoderCodec == nullptr || aac == nullptr)
    {
        problem = decoderCodec == nullptr ? "this FFmpeg cannot decode the music" : "this FFmpeg has no AAC encoder";
        return false;
    }
    decoder = avcodec_alloc_context3(decoderCodec);
    avcodec_parameters_to_context(decoder, in->codecpar);
    int status = avcodec_open2(decoder, decoderCodec, nullptr);
    if (status < 0)
    {
        problem = "cannot decode the music: " + ffmpegError(status);
        return false;
    }
    audio = avcodec_alloc_context3(aac);
    audio->sample_fmt = AV_SAMPLE_FMT_FLTP;
    audio->sample_rate = aacTakesRate(decoder->sample_rate) ? decoder->sample_rate : 48000;
    av_channel_layout_default(&audio->ch_layout, decoder->ch_layout.nb_channels > 0 ? decoder->ch_layout.nb_channels : 2);
    audio->bit_rate = 192000;
    audio->time_base = {1, audio->sample_rate};
    if ((output->oformat->flags & AVFMT_GLOBALHEADER) != 0)
        audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    status = avcodec_open2(audio, aac, nullptr);
    if (status < 0)
    {
        problem = "cannot open the AAC encoder: " + ffmpegError(status);
        return false;
    }
    audioStream = avformat_new_stream(output, nullptr);
    avcodec_parameters_from_context(audioStream->codecpar, audio);
    audioStream->time_base = audio->time_base;

    AVChannelLayout inputLayout{};
    if (decoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&inputLayout, decoder->ch_layout.nb_channels);
    else
        av_channel_layout_copy(&inputLayout, &decoder->ch_layout);
    status = swr_alloc_set_opts2(&resampler, &audio->ch_layout, audio->sample_fmt, audio->sample_rate, &inputLayout,
                                 decoder->sample_fmt, decoder->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&inputLayout);
    if (status < 0 || swr_init(resampler) < 0)
    {
        problem = "cannot resample the music for AAC";
        return false;
    }
    fifo = av_audio_fifo_alloc(audio->sample_fmt, audio->ch_layout.nb_channels, audio->frame_size);
    decoded = av_frame_alloc();
    audioFrame = av_frame_alloc();
    return fifo != nullptr;
}

bool VideoFileState::writePackets(AVCodecContext* encoder, AVStream* stream, std::string& problem)
{
    for (;;)
    {
        int status = avcodec_receive_packet(encoder, packet);
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF)
            return true;
        if (status < 0)
        {
            problem = "encoding failed: " + ffmpegError(status);
            return false;
        }
        av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
        packet->stream_index = stream->index;
        status = av_interleaved_write_frame(output, packet);
        if (status < 0)
        {
            problem = "cannot write to " + settings.path + ": " + ffmpegError(status);
            return false;
        }
    }
}

bool VideoFileState::encodeVideo(const AVFrame* input, std::string& problem)
{
    const int status = avcodec_send_frame(video, input);
    if (status < 0 && status != AVERROR_EOF)
    {
        problem = "encoding failed: " + ffmpegError(status);
        return false;
    }
    return writePackets(video, videoStream, problem);
}

// The audio of [from, from + seconds) of the music, up to `seconds` of the video.
bool VideoFileState::feedAudioUntil(double seconds, std::string& problem)
{
    while (!musicDone && audioWrittenSeconds < seconds)
    {
        const bool ok = settings.kind == VideoKind::matroska ? copyMusicPacket(problem) : decodeMusicPacket(false, problem);
        if (!ok)
            return false;
    }
    return true;
}

bool VideoFileState::copyMusicPacket(std::string& problem)
{
    const int status = av_read_frame(music, musicPacket);
    if (status < 0)
    {
        musicDone = true;
        return true;
    }
    if (musicPacket->stream_index != musicStream)
    {
        av_packet_unref(musicPacket);
        return true;
    }
    const AVRational timeBase = music->streams[musicStream]->time_base;
    const std::int64_t stamp = musicPacket->pts != AV_NOPTS_VALUE ? musicPacket->pts : musicPacket->dts;
    const double at = stamp == AV_NOPTS_VALUE ? audioWrittenSeconds + settings.musicFromSeconds
                                              : static_cast<double>(stamp) * av_q2d(timeBase);
    const double end = settings.musicFromSeconds + settings.musicSeconds;
    if (at >= end - 1e-9)
    {
        av_packet_unref(musicPacket);
        musicDone = true;
        return true;
    }
    if (settings.musicFromSeconds > 0 && at < settings.musicFromSeconds)
    {
        av_packet_unref(musicPacket);
        return true;
    }
    const std::int64_t shift = static_cast<std::int64_t>(std::llround(settings.musicFromSeconds / av_q2d(timeBase)));
    if (musicPacket->pts != AV_NOPTS_VALUE)
        musicPacket->pts -= shift;
    if (musicPacket->dts != AV_NOPTS_VALUE)
        musicPacket->dts -= shift;
    av_packet_rescale_ts(musicPacket, timeBase, audioStream->time_base);
    musicPacket->stream_index = audioStream->index;
    musicPacket->pos = -1;
    audioWrittenSeconds = at - settings.musicFromSeconds;
    const int written = av_interleaved_write_frame(output, musicPacket);
    if (written < 0)
    {
        problem = "cannot write to " + settings.path + ": " + ffmpegError(written);
        return false;
    }
    return true;
}

bool VideoFileState::resampleInto(const AVFrame* input, std::string& problem)
{
    const int inputSamples = input != nullptr ? input->nb_samples : 0;
    const int room = swr_get_out_samples(resampler, inputSamples);
    if (room <= 0)
        return true;
    std::vector<std::uint8_t*> planes(static_cast<std::size_t>(audio->ch_layout.nb_channels), nullptr);
    if (av_samples_alloc(planes.data(), nullptr, audio->ch_layout.nb_channels, room, audio->sample_fmt, 0) < 0)
    {
        problem = "out of memory for the audio";
        return false;
    }
    const int got = swr_convert(resampler, planes.data(), room,
                                input != nullptr ? const_cast<const std::uint8_t**>(input->extended_data) : nullptr,
                                inputSamples);
    bool ok = got >= 0;
    if (got > 0)
    {
        // Keep only what falls in [from, from + seconds) of the music.
        const long long from = std::llround(settings.musicFromSeconds * audio->sample_rate);
        const long long end = std::llround((settings.musicFromSeconds + settings.musicSeconds) * audio->sample_rate);
        const long long first = std::max(from, resampledSamples);
        const long long last = std::min(end, resampledSamples + got);
        if (last > first)
        {
            const int offset = static_cast<int>(first - resampledSamples);
            std::vector<void*> kept(planes.size());
            for (std::size_t c = 0; c < planes.size(); ++c)
                kept[c] = planes[c] + static_cast<std::size_t>(offset) * sizeof(float);
            ok = av_audio_fifo_write(fifo, kept.data(), static_cast<int>(last - first)) >= 0;
        }
        resampledSamples += got;
        if (resampledSamples >= end)
            musicDone = true;
    }
    av_freep(&planes[0]);
    if (!ok)
        problem = "cannot resample the music";
    return ok && encodeAudio(false, problem);
}

bool VideoFileState::encodeAudio(bool flush, std::string& problem)
{
    while (av_audio_fifo_size(fifo) >= audio->frame_size || (flush && av_audio_fifo_size(fifo) > 0))
    {
        const int samples = std::min(av_audio_fifo_size(fifo), audio->frame_size);
        av_frame_unref(audioFrame);
        audioFrame->nb_samples = samples;
        audioFrame->format = audio->sample_fmt;
        av_channel_layout_copy(&audioFrame->ch_layout, &audio->ch_layout);
        audioFrame->sample_rate = audio->sample_rate;
        if (av_frame_get_buffer(audioFrame, 0) < 0 ||
            av_audio_fifo_read(fifo, reinterpret_cast<void**>(audioFrame->data), samples) < samples)
        {
            problem = "out of memory for the audio";
            return false;
        }
        audioFrame->pts = encodedSamples;
        encodedSamples += samples;
        audioWrittenSeconds = static_cast<double>(encodedSamples) / audio->sample_rate;
        const int status = avcodec_send_frame(audio, audioFrame);
        if (status < 0)
        {
            problem = "AAC encoding failed: " + ffmpegError(status);
            return false;
        }
        if (!writePackets(audio, audioStream, problem))
            return false;
    }
    if (flush)
    {
        avcodec_send_frame(audio, nullptr);
        return writePackets(audio, audioStream, problem);
    }
    return true;
}

bool VideoFileState::decodeMusicPacket(bool flush, std::string& problem)
{
    int status = 0;
    if (flush)
        status = avcodec_send_packet(decoder, nullptr);
    else
    {
        status = av_read_frame(music, musicPacket);
        if (status < 0)
            return decodeMusicPacket(true, problem);
        if (musicPacket->stream_index != musicStream)
        {
            av_packet_unref(musicPacket);
            return true;
        }
        status = avcodec_send_packet(decoder, musicPacket);
        av_packet_unref(musicPacket);
    }
    if (status < 0 && status != AVERROR_EOF)
    {
        // A damaged packet: the decoder goes on with the next one, as a player would.
        return true;
    }
    for (;;)
    {
        status = avcodec_receive_frame(decoder, decoded);
        if (status == AVERROR(EAGAIN))
            return true;
        if (status < 0)
            break;
        const bool ok = resampleInto(decoded, problem);
        av_frame_unref(decoded);
        if (!ok)
            return false;
        if (musicDone)
            return encodeAudio(false, problem);
    }
    if (flush)
    {
        // The track has ended: what the resampler holds, then the last short frame.
        musicDone = true;
        if (!resampleInto(nullptr, problem))
            return false;
    }
    return true;
}

VideoFile::VideoFile() = default;
VideoFile::~VideoFile() = default;

bool VideoFile::open(const VideoSettings& settings, std::string& problem)
{
    // The encoders' statistics are noise on the user's terminal; errors still show.
    av_log_set_level(AV_LOG_ERROR);
    m_state = std::make_unique<VideoFileState>();
    VideoFileState& s = *m_state;
    s.settings = settings;
    const char* format = settings.kind == VideoKind::matroska ? "matroska" : "mp4";
    int status = avformat_alloc_output_context2(&s.output, nullptr, format, settings.path.c_str());
    if (status < 0)
    {
        problem = "cannot make a " + std::string(format) + " file: " + ffmpegError(status);
        return false;
    }
    s.packet = av_packet_alloc();
    if (!s.openVideoEncoder(problem) || !s.openMusic(problem))
        return false;
    status = avio_open(&s.output->pb, settings.path.c_str(), AVIO_FLAG_WRITE);
    if (status < 0)
    {
        problem = "cannot write " + settings.path + ": " + ffmpegError(status);
        return false;
    }
    AVDictionary* options = nullptr;
    if (settings.kind == VideoKind::mp4)
        av_dict_set(&options, "movflags", "+faststart", 0);
    status = avformat_write_header(s.output, &options);
    av_dict_free(&options);
    if (status < 0)
    {
        problem = "cannot write " + settings.path + ": " + ffmpegError(status);
        return false;
    }
    s.headerWritten = true;
    return true;
}

bool VideoFile::addFrame(const std::uint8_t* pixels, int stride, std::string& problem)
{
    VideoFileState& s = *m_state;
    const int status = av_frame_make_writable(s.frame);
    if (status < 0)
    {
        problem = "out of memory for a frame: " + ffmpegError(status);
        return false;
    }
    const std::uint8_t* const planes[1] = {pixels};
    const int strides[1] = {stride};
    sws_scale(s.scaler, planes, strides, 0, s.settings.height, s.frame->data, s.frame->linesize);
    s.frame->pts = s.frameIndex++;
    if (!s.encodeVideo(s.frame, problem))
        return false;
    return s.feedAudioUntil(static_cast<double>(s.frameIndex) / s.settings.fps, problem);
}

bool VideoFile::finish(std::string& problem)
{
    VideoFileState& s = *m_state;
    if (!s.encodeVideo(nullptr, problem) || !s.feedAudioUntil(std::numeric_limits<double>::infinity(), problem))
        return false;
    if (s.settings.kind == VideoKind::mp4)
    {
        if (!s.musicDone && !s.decodeMusicPacket(true, problem))
            return false;
        if (!s.encodeAudio(true, problem))
            return false;
    }
    int status = av_write_trailer(s.output);
    if (status >= 0)
        status = avio_closep(&s.output->pb);
    if (status < 0)
    {
        problem = "cannot finish " + s.settings.path + ": " + ffmpegError(status);
        return false;
    }
    return true;
}
